// A library under the crash library's file name that exports none of its
// entry points, as an unrelated library of the same name would.
#ifdef _WIN32
extern "C" __declspec(dllexport) int UnrelatedEntryPoint() { return 7; }
#else
extern "C" __attribute__((visibility("default"))) int UnrelatedEntryPoint() {
  return 7;
}
#endif
