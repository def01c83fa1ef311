#pragma once
#include "admin/admin_context.h"

int admin_serve(AdminContext& ctx);
