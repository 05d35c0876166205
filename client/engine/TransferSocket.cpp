#include "TransferSocket.h"

CTransferSocket::CTransferSocket() = default;
CTransferSocket::~CTransferSocket() = default;
