// Known bad: C4100 at /W4, an unreferenced parameter.
// expect msvc: unused parameter 'copies'
int PrintedLines(int lines, int copies) { return lines; }
