#include "svg_document.hpp"

#include <charconv>
#include <utility>

#include "text_columns.hpp"
#include "xml_text.hpp"

namespace vesk {

SvgDocument::SvgDocument(int width, int height, std::string_view title, std::string_view style,
                         std::string_view defs, std::size_t text_columns)
    : text_columns_(text_columns) {
    out_.reserve(256 * 1024);
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\"";
    attribute("width", width);
    attribute("height", height);
    out_ += " viewBox=\"0 0 ";
    number(width);
    out_ += ' ';
    number(height);
    out_ += "\">\n<title>";
    append_xml_text(out_, cut_to_columns(title, text_columns_));
    out_ += "</title>\n<style>";
    out_ += style;
    out_ += "</style>\n";
    out_ += defs;
    out_ += '\n';
}

void SvgDocument::open_group(std::string_view cls) {
    open_element("g", cls);
    out_ += ">\n";
}

void SvgDocument::close_group() {
    out_ += "</g>\n";
}

void SvgDocument::rect(int x, int y, int width, int height, std::string_view cls) {
    open_element("rect", cls);
    attribute("x", x);
    attribute("y", y);
    attribute("width", width);
    attribute("height", height);
    out_ += "/>\n";
}

void SvgDocument::text(int x, int y, std::string_view cls, std::string_view content) {
    open_element("text", cls);
    attribute("x", x);
    attribute("y", y);
    out_ += '>';
    append_xml_text(out_, cut_to_columns(content, text_columns_));
    out_ += "</text>\n";
}

void SvgDocument::begin_path(std::string_view cls) {
    open_element("path", cls);
    out_ += " d=\"";
}

void SvgDocument::command(char name) {
    out_ += name;
}

void SvgDocument::command(char name, int value) {
    out_ += name;
    number(value);
}

void SvgDocument::command(char name, int x, int y) {
    command(name, x);
    out_ += ' ';
    number(y);
}

void SvgDocument::end_path() {
    out_ += "\"/>\n";
}

std::string SvgDocument::finish() {
    out_ += "</svg>\n";
    return std::move(out_);
}

void SvgDocument::number(int value) {
    char digits[16];
    out_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Class names are the program's own, never text from a file.
void SvgDocument::open_element(std::string_view name, std::string_view cls) {
    out_ += '<';
    out_ += name;
    out_ += " class=\"";
    out_ += cls;
    out_ += '"';
}

void SvgDocument::attribute(std::string_view name, int value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    number(value);
    out_ += '"';
}

}  // namespace vesk
