#include "file_policy.hpp"

namespace protocols {

WriteWay choose_write_way(const TargetFacts& facts) {
    using enum FileTarget::Kind;
    switch (facts.kind) {
        case Missing:
            return WriteWay::Replace;  // nothing to keep
        case Other:                    // a FIFO or device is written to; a directory fails to open
        case Unresolved:               // a name ending in a slash: open() judges it
            return WriteWay::InPlace;
        case Regular:
            break;
    }
    if (facts.write_refused != 0) return WriteWay::Refuse;  // not replaced behind its owner's back
    if (!facts.readable) return WriteWay::InPlace;          // its attributes cannot be copied
    if (facts.links > 1) return WriteWay::InPlace;  // another name would keep the old content
    return WriteWay::Replace;
}

}  // namespace protocols
