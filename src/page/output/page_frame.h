// The page frame with the administrator's colours.
#pragma once
#include "page/connection.h"

enum : int { kPageHtml = 1, kPageBody = 2, kPageCenter = 4, kPagePre = 8, kPageHr = 16 };

void PageHead(Connection& c, const char* title);
void BeginPage(Connection& c, int parts);
void EndPage(Connection& c, int parts);
