#include "main/command_line.h"

namespace {

int gArgc = 0;
char** gArgv = nullptr;

}  // namespace

void CommandLine::set(int argc, char** argv) {
  gArgc = argc;
  gArgv = argv;
}

int CommandLine::argc() { return gArgc; }

char** CommandLine::unsafeArgv() { return gArgv; }
