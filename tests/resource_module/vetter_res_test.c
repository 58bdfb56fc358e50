/* A resource module for the tests: its texts must win over the built-in ones. */
#include <stddef.h>

const char* VetterResString(unsigned id) {
  switch (id) {
    case 102: return "Datei konnte nicht geladen werden.";
    case 112: return "Converts old scenes into props.";
    default: return NULL;
  }
}
