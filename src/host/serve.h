#pragma once
#include "admin/admin_context.h"

int admin_serve(AdminContext& ctx);

struct HomePaths;
struct HttpsSetup;
// Why the home's HTTPS certificate or key cannot be used (UTF-8, Japanese
// then English), for a refused setup.
std::string https_refusal(const HttpsSetup& setup, const HomePaths& paths);
