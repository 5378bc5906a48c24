// mksetup: makes a setup file from a stub executable and the files to
// install, or a bare archive without a stub.
//
//   mksetup -o OUT [--stub EXE] [--method 1|2|3] [--text FILE]... FILE...
//
// Entries keep the order of the command line and are named by each file's
// last path component. Exit status: 0 written, 1 failure, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "packer.h"

static int Usage(const char *problem) {
  if (problem) std::fprintf(stderr, "mksetup: %s\n", problem);
  std::fprintf(stderr,
               "usage: mksetup -o OUT [--stub EXE] [--method 1|2|3] [--text FILE]... FILE...\n"
               "  -o OUT        the setup file (or bare archive) to write\n"
               "  --stub EXE    executable to put in front of the archive\n"
               "  --method N    1 smallest (default), 2 normal, 3 fastest\n"
               "  --text FILE   store FILE as text: CR LF on the installed copy\n");
  return 2;
}

int main(int argc, char **argv) {
  if (argc < 2) return Usage(nullptr);
  PackJob job;
  job.method = 1;
  job.log = stderr;
  bool optionsDone = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
      job.inputs.push_back(PackInput{arg, false});
    } else if (arg == "--") {
      optionsDone = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage(nullptr);
      return 0;
    } else if (!hasValue) {
      return Usage(("option " + arg + " needs a value").c_str());
    } else if (arg == "-o") {
      job.output = argv[++i];
    } else if (arg == "--stub") {
      job.stub = argv[++i];
    } else if (arg == "--text") {
      job.inputs.push_back(PackInput{argv[++i], true});
    } else if (arg == "--method") {
      std::string value = argv[++i];
      if (value != "1" && value != "2" && value != "3") return Usage("--method takes 1, 2 or 3");
      job.method = static_cast<unsigned>(value[0] - '0');
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  if (job.output.empty()) return Usage("no output file (-o OUT)");
  if (job.inputs.empty()) return Usage("no input files");

  std::string error;
  if (!WriteSetupFile(job, &error)) {
    std::fprintf(stderr, "mksetup: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
