#include <cstdio>

#include "commands.hpp"
#include "load.hpp"
#include "protocols/text_form.hpp"

namespace vesk {

int run_show(const Args& args) {
    Loaded loaded;
    int status;
    if (!load_protocol(args.file, loaded, status)) return status;
    std::string text = protocols::text_form(loaded.settings);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    return EXIT_OK;
}

}  // namespace vesk
