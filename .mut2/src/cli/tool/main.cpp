#include "cli/CommandLine.h"

int main(int argc, char** argv) { return palvero::cli::CommandLine::main(argc, argv); }
