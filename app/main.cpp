#include "CSorvantaApp.h"

int main(int argc, char** argv) { return sorvanta::theApp.Run(argc, argv); }
