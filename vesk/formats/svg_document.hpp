// A small writer of SVG documents: integer coordinates, classes styled by one
// style sheet, every text escaped. What it writes has no scripts and refers
// to nothing outside the document.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

class SvgDocument {
public:
    // Opens the document: its size, a <title> (escaped, cut to `text_columns`),
    // the style sheet and `defs` (the caller's own fixed markup).
    SvgDocument(int width, int height, std::string_view title, std::string_view style,
                std::string_view defs, std::size_t text_columns);

    void open_group(std::string_view cls);
    void close_group();

    void rect(int x, int y, int width, int height, std::string_view cls);
    // `content` may be anything, untrusted text included: it is escaped and
    // cut to `text_columns` columns (cut_to_columns).
    void text(int x, int y, std::string_view cls, std::string_view content);

    // A <path>: begin_path, then commands ('M', 'H', 'V', 'v', 'Z', ...) each
    // with none, one or two numbers, then end_path.
    void begin_path(std::string_view cls);
    void command(char name);
    void command(char name, int value);
    void command(char name, int x, int y);
    void end_path();

    // Closes the document and gives its text.
    std::string finish();

private:
    void number(int value);
    void open_element(std::string_view name, std::string_view cls);
    void attribute(std::string_view name, int value);

    std::string out_;
    std::size_t text_columns_;
};

}  // namespace vesk
