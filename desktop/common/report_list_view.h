#pragma once

class QTableView;

// Gives a report list (conversations, hosts) its common look: whole rows
// selected, several at a time, no grid, no wrapping, no editing, no row
// header and fixed row heights.
// The model should be set first. User-interface thread only.
void SetUpReportList(QTableView& list);
