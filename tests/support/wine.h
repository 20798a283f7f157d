// Whether a test runs under Wine. A few of Wine's Windows Sockets answers
// differ from what Windows documents; the tests that meet them say which and
// skip there rather than assert Wine's answer.
#pragma once

bool UnderWine();
