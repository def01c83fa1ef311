// From the request line to a route and its parameters.
#pragma once
#include "page/connection.h"

// path is the request line after the method word (it still ends in
// " HTTP/1.0"); it may be modified.
void RouteRequest(Connection& c, char* path);
void ParseQuery(Connection& c, char* path);
