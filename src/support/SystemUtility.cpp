#include "support/SystemUtility.h"
