#include "QueryProgram.h"

int main(int argc, char** argv) { return sorvanta::RunQuery(argc, argv); }
