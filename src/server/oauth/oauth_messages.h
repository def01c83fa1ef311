// Indexes of the OAuth2 texts in the message table, kept together so that
// they move as one block.
#pragma once

enum : int {
    kMsgOAuthLogin = 177,
    kMsgOAuthConnect = 178,
    kMsgOAuthConnected = 179,
    kMsgOAuthNotConnected = 180,
    kMsgOAuthDone = 181,
    kMsgOAuthFailed = 182,
    kMsgOAuthStateInvalid = 183,
    kMsgOAuthNoProvider = 184,
    kMsgOAuthNotUsed = 185,
};
