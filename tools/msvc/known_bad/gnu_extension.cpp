// Known bad: the GNU ?: shorthand, which g++ and mingw-w64 take and Visual Studio rejects.
// expect strict: use of GNU \?: conditional expression extension
int FirstSet(int preferred, int fallback) { return preferred ?: fallback; }
