#pragma once

// Whether the X display pszDisplay ("[host]:N[.screen]", as DISPLAY holds it)
// answers a connection set-up within nTimeoutMs in all. Any answer counts, a
// refusal of the credentials too: Qt then connects with its own. A host name
// other than localhost is not looked up (that could wait on the network) and
// counts as answering, as does a form this does not know: Qt decides then.
bool DisplayAnswers(const char* pszDisplay, int nTimeoutMs);
