#include "app/program.h"

int main(int argc, char** argv) {
    return qv::runProgram(argc, argv);
}
