#include "mail/book/address_book.h"

#include "server/form/form_reader.h"
#include "server/route/dispatcher.h"

void install_address_book() {
    SetPageProducer(PageState::AddressBookPage, ShowBookPage);
    SetPageProducer(PageState::AddressBookSubmit, SubmitBook);
    BookField = BookFormField;
    LoadSharedBook();
}
