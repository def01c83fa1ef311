// The registration check of the settings workers (see
// account/settings_page.h): asks the POP3 server about the new account's
// login on a worker thread of c.
#pragma once

struct Connection;

void StartRegistrationPop3Check(Connection& c);
