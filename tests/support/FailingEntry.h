// A client-library entry point that fails for as long as this object lives, as the library
// reports a failure: the status vector holds the code (and a text argument when given). Every
// call is counted; with code 0 the calls go on to the library, only counted.
#pragma once

#include "database/FbClient.h"

namespace fesko::test {

template <typename Member>
struct EntryPointType;
template <typename Fn>
struct EntryPointType<Fn db::FbClient::*> {
  using type = Fn;
};

template <auto Entry, typename Fn = typename EntryPointType<decltype(Entry)>::type>
class FailingEntry;

template <auto Entry, typename... Args>
class FailingEntry<Entry, ISC_STATUS (*)(ISC_STATUS*, Args...)> {
 public:
  explicit FailingEntry(ISC_STATUS code, const char* text = nullptr) : replaced_(Entry, &Call) {
    code_ = code;
    text_ = text;
    calls_ = 0;
    original_ = replaced_.Original();
  }
  int Calls() const { return calls_; }

 private:
  static ISC_STATUS Call(ISC_STATUS* status, Args... args) {
    ++calls_;
    if (code_ == 0) return original_(status, args...);
    *status++ = isc_arg_gds;
    *status++ = code_;
    if (text_) {
      *status++ = isc_arg_string;
      *status++ = reinterpret_cast<ISC_STATUS>(text_);
    }
    *status = isc_arg_end;
    return code_;
  }

  static inline int calls_ = 0;
  static inline ISC_STATUS code_ = 0;
  static inline const char* text_ = nullptr;
  static inline ISC_STATUS (*original_)(ISC_STATUS*, Args...) = nullptr;
  db::ReplaceEntryPoint<ISC_STATUS (*)(ISC_STATUS*, Args...)> replaced_;
};

}  // namespace fesko::test
