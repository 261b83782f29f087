#include "model/ProfileFormat.h"
