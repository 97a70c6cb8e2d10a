// Tavrin, the desktop program: the window, or with /Grab /Silent one unattended grab run.
#include "desktop/umain.h"

int main(int argc, char** argv) { return RunTavrin(argc, argv); }
