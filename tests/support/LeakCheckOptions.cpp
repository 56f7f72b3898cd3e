// LeakSanitizer's configuration for every program of a sanitizer build: the test programs, and
// Dunmar and the workshop simulator that the tests and the demo start. Read by the sanitizer
// runtime at start-up; unused in a build without it. A leak of our own code fails the run.
//
// intercept_tls_get_addr=0. The client library is opened at run time and keeps thread-local
// storage, so its blocks are dynamic TLS, which the runtime learns of through its interceptor of
// __tls_get_addr. GCC 12's runtime (LLVM's too, up to 16) takes a block that starts 16 bytes
// into a page for one that carries the header glibc before 2.25 put in front of it, and reads
// the two words before the block as its bounds: on glibc 2.36 they are whatever lies there
// (seen as "DTLS 9 at 0x...010a-0x...120c"; with verbosity=2 the runtime says "glibc >=2.19
// suspected"), and the exit scan faults on that range ("Tracer caught signal 11") after every
// case has passed. Where a block lands depends on the process's memory layout, so one machine
// crashes where another does not. Without the interceptor the runtime keeps no list of dynamic
// TLS; the blocks are still scanned, as allocations of the dynamic linker that it counts as
// reachable, and static thread-local storage (GLib's, Qt's) is scanned as before.
extern "C" const char* __lsan_default_options() {
  return "intercept_tls_get_addr=0";
}

// Suppressions, each a library's own and not ours to free:
// - libQt6DBus: on a StatusNotifier tray Qt D-Bus keeps the object (and its name) through which
//   it exports the tray item until the process ends; only Dunmar on such a desktop meets it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt6DBus.so\n";
}
