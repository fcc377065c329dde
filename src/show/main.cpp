// main.cpp -- kva: the self-running show. It takes no arguments.
#include "show/show.h"

int main() {
    return show::runShow();
}
