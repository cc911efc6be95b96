#include "isam/testing/test_support.h"
