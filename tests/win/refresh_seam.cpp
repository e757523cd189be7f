// For test programs that link the settings store without a main window:
// there is no list box to refill.
void RefreshFolderListView() {}
