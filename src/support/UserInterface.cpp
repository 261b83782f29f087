#include "support/UserInterface.h"
