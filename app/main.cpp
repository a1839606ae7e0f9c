// Ostrel: a graphical front end for shell-script installers.
#include "app/app.h"

int main(int argc, char** argv) {
    return startup(argc, argv);
}
