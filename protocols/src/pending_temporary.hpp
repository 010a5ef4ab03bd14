// The replacement's side of protocols/pending_temporary.hpp.
#pragma once

namespace protocols {

// Registers `name` in the directory handle `directory` as the temporary in
// use. One at a time: false, and nothing registered, while another is, or
// when the name is longer than a file name can be.
bool register_pending_temporary(int directory, const char* name) noexcept;

// Forgets the registered name, once it is renamed or removed.
void clear_pending_temporary() noexcept;

}  // namespace protocols
