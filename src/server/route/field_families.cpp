// The body reader hands each family of form fields to the page that owns it;
// the table stands here, above the pages, so that the reader knows none of
// them.
#include "account/settings_page.h"
#include "mail/book/address_book.h"
#include "mail/compose/compose_page.h"
#include "server/form/form_reader.h"

const FieldHandlers kPageFieldHandlers = {SettingsUserField, StoreSendField, BookFormField};
