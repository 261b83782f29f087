#include "support/ConfigUtility.h"
