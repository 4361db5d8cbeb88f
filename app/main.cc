// Entry point. Arguments are ignored: the tool always works on Velmarin.asm in
// the current directory.
#include "app/driver.h"

int main() { return runOrrinvale(); }
