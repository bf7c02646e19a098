#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The program's console: every message goes to standard output, one whole
// line per call, flushed at once. A line is composed before it is written, so
// the lines of two gifts served at the same time never mix inside a line.
namespace console {

void printLine(std::string_view line);
// Lines that belong together, written at once: nothing comes between them.
void printLines(std::initializer_list<std::string_view> lines);
// A question whose answer is typed on the same line: no line end.
void prompt(std::string_view text);
// One line of standard input without its line end (nor a CR before it);
// nothing at the end of the input.
bool readLine(std::string& line);

}  // namespace console
