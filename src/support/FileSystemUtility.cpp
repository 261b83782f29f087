#include "support/FileSystemUtility.h"
