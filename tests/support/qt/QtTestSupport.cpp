#include "tests/support/qt/QtTestSupport.hpp"
