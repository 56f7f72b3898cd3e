// The demo's test programs end with a stale dynamic-TLS entry, left by a library unloaded before
// exit, on which LeakSanitizer's scan of the threads crashes ("Tracer caught signal 11") after
// every case has passed. Leaks are still checked; only pointers held in thread-local storage are
// not followed. Read by LeakSanitizer at start-up, and unused in a build without it.
extern "C" const char* __lsan_default_options() {
  return "use_tls=0";
}
