// Where orlimvis finds its plug-in, and where the plug-in keeps its settings.
//
// The plug-in writes "plugin.ini" beside its own file. That suits a plug-in in a folder
// the user owns (a build tree, a copy given with --plugin), and there it stays. An
// installed plug-in lives in a system folder shared by every user, so for it, and for
// any plug-in whose folder cannot be written, the player points the plug-in's idea of
// its own file name (libvisplatform's module-file-name override) into
// $XDG_CONFIG_HOME/orlimvis/ (~/.config/orlimvis/ by default): each user's window
// positions land there, read and written by the plug-in's own unchanged rule.
#pragma once

#include <string>

struct PluginLocation {
  std::string path;
  bool installed = false;  // found in the private library folder of an installed copy
};

// The plug-in of this program: vis_orlim.so beside it (a build tree), else beside the
// libvisplatform.so it runs with, in the private library folder of an installed copy
// (<prefix>/lib/<multiarch>/orlimvis/).
PluginLocation defaultPluginLocation();

// The folder the plug-in's settings should go to: "" when the plug-in's own folder
// serves (not installed, and writable), else $XDG_CONFIG_HOME/orlimvis (or
// $HOME/.config/orlimvis). Empty as well when neither variable gives a place.
std::string settingsFolderFor(const PluginLocation& plugin);

// Creates that folder when needed and sets the override so that the plug-in's settings
// file is <folder>/plugin.ini. Returns the folder ("" when the plug-in's own rule holds
// or the folder cannot be made, in which case the plug-in's rule holds too).
std::string redirectPluginSettings(const PluginLocation& plugin);
