#pragma once
#include "page/connection.h"

// The not-found answer: 404 (200 for MSIE) with "Designated URL does not exist.".
void NotFoundPage(Connection& c);
