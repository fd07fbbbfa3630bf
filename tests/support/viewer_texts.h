// What the viewer writes on its console, for the tests that read it.
#pragma once

const char* const banner_and_prompt = "\n\n\t\t\t *** OLVANTA ***\n\nEnter File name: ";
const char* const dialogue = "\n\n\t\t\t *** OLVANTA ***\n\nEnter File name: Loading file...";
