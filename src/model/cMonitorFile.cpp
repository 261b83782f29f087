#include "model/cMonitorFile.h"
