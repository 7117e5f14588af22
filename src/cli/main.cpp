#include "cli/cli.h"

int main(int argc, char** argv) { return tessaly::cli::RunCli(argc, argv); }
