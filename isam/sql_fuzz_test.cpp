#include <gtest/gtest.h>

#include "isam/sql_parser.h"
