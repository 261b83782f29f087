#include "model/cSettings.h"
