#pragma once

#include "AsyncSocket.h"

// The client's transfer object: one socket and one transfer.
class CTransferSocket : public CAsyncSocket {
public:
    CTransferSocket();
    ~CTransferSocket() override;

    int m_bActive = 0;
};
