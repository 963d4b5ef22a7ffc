#pragma once
// The client's connection and transaction interfaces as the connection and statement objects hold
// them; seen inside store/ only.

#include "fbcall.h"

#include <firebird/Interface.h>

struct FbAttachmentHandle {
    fbcall::Owned<Firebird::IAttachment> att;
};
struct FbTransactionHandle {
    fbcall::Owned<Firebird::ITransaction> tra;
};
