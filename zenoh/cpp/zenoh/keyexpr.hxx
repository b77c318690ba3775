// Key expressions, canonised on construction when asked.
#pragma once

#include <string>
#include <string_view>

#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh {

class KeyExpr : public detail::Owned<NzKeyExpr, nz_keyexpr_drop> {
 public:
  // With `autocanonize` the text is canonised first; without, it must
  // already be canonical. A malformed text throws (or, given `err`, leaves
  // the key empty and stores the code).
  explicit KeyExpr(std::string_view text, bool autocanonize = true, ZResult* err = nullptr) {
    NzKeyExpr* out = nullptr;
    const ZResult rc = autocanonize ? nz_keyexpr_autocanonize(&out, text.data(), text.size())
                                    : nz_keyexpr_from_str(&out, text.data(), text.size());
    if (err != nullptr) *err = rc;
    if (rc == NZ_OK) {
      *this = KeyExpr(out);
    } else if (err == nullptr) {
      throw ZException("Failed to construct KeyExpr from: " + std::string(text), rc);
    }
  }

  std::string_view as_string_view() const noexcept {
    size_t len = 0;
    const char* s = nz_keyexpr_as_str(handle(), &len);
    return {s, len};
  }

 private:
  explicit KeyExpr(NzKeyExpr* ke) noexcept : Owned(ke) {}
};

}  // namespace zenoh
