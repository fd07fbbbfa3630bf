// The right-button popup menu: drawing style, guides, lighting, projection, quit.
#pragma once

void build_menus(); // while the window is current, so the menu attaches to it
void on_menu(int code);
