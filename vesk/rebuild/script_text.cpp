#include "script_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <span>
#include <variant>

#include "crc32.hpp"
#include "protocols/float_bits.hpp"
#include "protocols/json_form.hpp"
#include "protocols/text_form.hpp"
#include "value_text.hpp"

namespace vesk {
namespace {

constexpr std::string_view FLOAT_FROM_BITS = "float_from_bits";

// What the script needs besides the calls themselves.
struct Needs {
    bool stored_samples = false;
    bool float_from_bits = false;
    std::set<std::string_view> enumerations;  // sorted, as the import lists them
};

void put_argument(std::string& out, const ArgumentValue& value, Needs& needs) {
    std::visit(
        [&](const auto& v) {
            using T = std::remove_cvref_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>) {
                const std::string text = python_float(v);
                needs.float_from_bits |= text.starts_with(FLOAT_FROM_BITS);
                out += text;
            } else if constexpr (std::is_same_v<T, bool>) {
                out += v ? "True" : "False";
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                put_number(out, v);
            } else if constexpr (std::is_same_v<T, EnumMember>) {
                needs.enumerations.insert(v.type);
                out += v.type;
                out += '.';
                out += v.member;
            } else {
                needs.stored_samples = true;
                out += "stored[\"" + npz_array_name(v.signal) + "\"] / 32767.0";
            }
        },
        value);
}

// The calls, with what they need.
std::string call_lines(const RebuildPlan& plan, Needs& needs) {
    std::string lines;
    for (const ApiCall& call : plan.calls) {
        if (!call.comment.empty()) lines += "# " + call.comment + "\n";
        lines += "protocol.";
        lines += call.method;
        lines += '(';
        const char* separator = "";
        for (const Argument& argument : call.arguments) {
            lines += separator;
            lines += argument.keyword;
            lines += '=';
            put_argument(lines, argument.value, needs);
            separator = ", ";
        }
        lines += ")\n";
    }
    return lines;
}

}  // namespace

std::string npz_array_name(std::uint64_t signal) {
    return "signal_" + std::to_string(signal);
}

std::string python_float(double value) {
    const auto bits = protocols::float_bits(value);
    if (std::isnan(value)) {
        if ((bits & ~protocols::FLOAT_SIGN_BIT) != protocols::USUAL_NAN_BITS) {
            char hex[16];
            const auto end = std::to_chars(hex, hex + sizeof hex, bits, 16).ptr;
            return std::string(FLOAT_FROM_BITS) + "(0x" + std::string(hex, end) + ")";
        }
        return (bits & protocols::FLOAT_SIGN_BIT) != 0 ? "-float(\"nan\")" : "float(\"nan\")";
    }
    if (std::isinf(value)) return value < 0 ? "-float(\"inf\")" : "float(\"inf\")";
    // The text form's shortest round-trip digits ("1e16", "5e-324", "-0.0")
    // are Python literals of the same value.
    std::string text;
    protocols::write_float(text, value);
    return text;
}

StoredCodesCrc stored_codes_crc32(const protocols::Settings& settings,
                                  const std::vector<std::uint64_t>& signals) {
    static_assert(std::endian::native == std::endian::little, "codes are checked as stored");
    StoredCodesCrc crc;
    for (const std::uint64_t signal : signals) {
        const auto& samples =
            std::get<protocols::ArbitrarySignalParams>(settings.signals[signal]).samples;
        const std::size_t length = samples.size() * sizeof(std::int16_t);
        crc.each.push_back(
            crc32(std::span(reinterpret_cast<const std::uint8_t*>(samples.data()), length)));
        crc.all = crc32_combine(crc.all, crc.each.back(), length);
    }
    return crc;
}

namespace {

// Loads the .npz and ends the script with a plain message when its arrays are
// not the codes it was written for: those of another script's .npz, left by a
// `vesk script` that ended between writing the two files, would rebuild
// another protocol without a word.
std::string loading_checked_samples(const std::vector<std::uint64_t>& signals,
                                    std::uint32_t stored_codes_crc) {
    std::string names;
    for (const std::uint64_t signal : signals) {
        names += names.empty() ? "\"" : ", \"";
        names += npz_array_name(signal);
        names += '"';
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "0x%08X", static_cast<unsigned>(stored_codes_crc));
    std::string out =
        "samples_path = Path(__file__).with_suffix(\".npz\")\n"
        "stored = np.load(samples_path)\n"
        "# The codes this script was written for, by CRC-32 of each array's int16\n"
        "# values (little-endian) in turn.\n"
        "checksum = 0\n"
        "for name in [";
    out += names;
    out +=
        "]:\n"
        "    codes = stored[name] if name in stored else np.zeros(0, \"<i2\")\n"
        "    checksum = zlib.crc32(np.ascontiguousarray(codes, \"<i2\"), checksum)\n"
        "if checksum != ";
    out += checksum;
    out +=
        ":\n"
        "    sys.exit(f\"{samples_path}: not the samples this script was written for (another \"\n"
        "             \"script's, or changed): write both again with vesk script, or put back \"\n"
        "             \"the .npz written with this script\")\n";
    return out;
}

}  // namespace

std::string script_text(const RebuildPlan& plan, std::uint32_t stored_codes_crc,
                        std::string_view source_name) {
    Needs needs;
    const std::string calls = call_lines(plan, needs);

    std::string quoted_name;
    protocols::write_json_string(quoted_name, source_name);  // also a Python string literal
    std::string out = "\"\"\"Rebuilds the protocol of " + quoted_name +
                      " through the revevu API.\n"
                      "\n"
                      "Edit the calls below, then save the protocol with\n"
                      "\n"
                      "    python SCRIPT NEW.vesk\n"
                      "\n"
                      "where SCRIPT is this file.";
    if (needs.stored_samples) {
        out +=
            " The arbitrary signals' stored codes (0..32767)\n"
            "are read from the .npz file of the same name beside it.";
    }
    out += "\n\"\"\"\n\nimport os\n";
    if (needs.float_from_bits) out += "import struct\n";
    out += "import sys\n";
    if (needs.stored_samples) out += "import zlib\n";
    if (needs.stored_samples) out += "from pathlib import Path\n\nimport numpy as np\n";
    out += "\nfrom revevu import ";
    for (const std::string_view type : needs.enumerations) {
        out += type;
        out += ", ";
    }
    out += "Protocol\n";
    if (needs.float_from_bits) {
        out +=
            "\n\n"
            "def float_from_bits(bits):\n"
            "    \"\"\"The float with these IEEE 754 bits: a NaN keeps its sign and "
            "payload.\"\"\"\n"
            "    return struct.unpack(\"<d\", struct.pack(\"<Q\", bits))[0]\n\n";
    }
    out +=
        "\n"
        "if len(sys.argv) != 2:\n"
        "    sys.exit(f\"usage: python {sys.argv[0]} NEW.vesk\")\n"
        "\n";
    if (needs.stored_samples)
        out += loading_checked_samples(stored_sample_signals(plan), stored_codes_crc);
    if (plan.running_on_target_machine) {
        out +=
            "# Protocol() reads VESK_TARGET_MACHINE; the file was made with it set.\n"
            "os.environ[\"VESK_TARGET_MACHINE\"] = \"1\"\n";
    } else {
        out +=
            "# Protocol() reads VESK_TARGET_MACHINE; the file was made without it.\n"
            "os.environ.pop(\"VESK_TARGET_MACHINE\", None)\n";
    }
    out += "protocol = Protocol()\n";
    out += calls;
    out += "protocol.save(sys.argv[1])\n";
    return out;
}

}  // namespace vesk
