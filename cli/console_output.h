#pragma once

// Windows only. The program writes UTF-8 to std::cout and std::cerr. A console shows bytes in
// its own code page, which is rarely UTF-8, and changing the code page would outlast the
// program and garble what later programs in the same window print. So where standard output or
// standard error is a console, its stream is made to hand the console UTF-16 instead. A file or
// a pipe keeps receiving the UTF-8 bytes unchanged.
void WriteConsoleStreamsAsUtf16();
