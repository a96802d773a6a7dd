// Linked into every test of a ThreadSanitizer build (cmake/TlvTesting.cmake),
// which reads these suppressions when the test starts.

extern "C" const char* __tsan_default_suppressions() {
  // Debian's cpp-httplib, which the tests' HTTP servers run on, is a shared
  // library built without ThreadSanitizer: the tool sees the memory calls
  // made inside it but not the atomic operations that order them, and
  // reports races between the server's worker threads that are not there.
  // The suppression also hides the server's socket calls, through which the
  // tool would see that an answer follows its handler: a test reads what a
  // handler recorded under the handler's lock.
  return "called_from_lib:libcpp-httplib.so\n";
}
