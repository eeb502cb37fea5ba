#include "driver/args.h"

namespace korrin {

void UsageArg(const CommandLine& cl, FILE* err) {
  std::fprintf(err, "Usage : %s dest_file [-h] \n", cl.ArgPgm.c_str());
}

void HelpArg(const CommandLine& cl, const RunState& run, FILE* out, FILE* err) {
  static const char kRule[] = "-----------------------------------------------------------";
  std::fprintf(out, "\n%s\n", kRule);
  std::fprintf(out,
               run.ArgOpf == 1 ? "%-10s : edition des constantes corvane des programmes\n"
                               : "%-10s : printing the corvane contants of the programs \n",
               cl.ArgPgm.c_str());
  std::fprintf(out, "%s\n\n", kRule);
  std::fflush(out);
  UsageArg(cl, err);
  std::fputs("\t-h        : help \n", out);
  std::fputs("        dest_file : output file \n", out);
}

int TestArg(const std::string& Arg, CommandLine& cl, RunState& run, FILE* err) {
  for (size_t k = 1; k < Arg.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(Arg[k]);
    switch (c) {
      case 'h':
        cl.ArgOph = true;
        break;
      case 'f':
      case 'F':
        run.ArgOpf = 1;
        break;
      case 'e':
      case 'E':
        run.ArgOpf = 0;
        break;
      case 'R':
        run.ArgOpR = true;
        break;
      case 'r':
        run.ArgOpr = true;
        break;
      case 'u':
      case 'l':
      case 'o':
      case 'c':
        break;
      default:
        std::fprintf(err, "%s : -%c : unknown argument\n", cl.ArgPgm.c_str(), c);
        UsageArg(cl, err);
        return kExitUsage;
    }
  }
  return kContinue;
}

int ReadArgs(int argc, const char* const* argv, CommandLine& cl, RunState& run, FILE* out,
             FILE* err) {
  cl.ArgPgm = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  for (int k = 1; k < argc; ++k) {
    const std::string Arg = argv[k];
    if (!Arg.empty() && Arg[0] == '-') {
      if (TestArg(Arg, cl, run, err) != kContinue) return kExitUsage;
    } else if (cl.ArgTop == 0) {
      cl.ArgDest = Arg;
      cl.ArgTop = 1;
    } else {
      std::fprintf(err, "%s : %s : error in parameters - erreur de parametre", Arg.c_str(),
                   cl.ArgPgm.c_str());
      UsageArg(cl, err);
      return kExitUsage;
    }
  }
  if (cl.ArgTop != 1) {
    UsageArg(cl, err);
    return kExitUsage;
  }
  if (cl.ArgOph) {
    HelpArg(cl, run, out, err);
    return kExitOk;
  }
  return kContinue;
}

}  // namespace korrin
