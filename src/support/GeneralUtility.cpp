#include "support/GeneralUtility.h"
