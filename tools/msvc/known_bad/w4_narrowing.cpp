// Known bad: C4267 at /W4, size_t narrowed to int, which clang-cl's own /W4 lets through.
// expect strict: implicit conversion loses integer precision
#include <vector>

int JobCount(const std::vector<int>& jobs) { return jobs.size(); }
