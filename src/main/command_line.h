#pragma once

// The process's arguments, kept by the entry point for whoever needs them later.
class CommandLine {
 public:
  static void set(int argc, char** argv);
  static int argc();
  // Null before set().
  static char** unsafeArgv();

  CommandLine() = delete;
};
