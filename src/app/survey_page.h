#pragma once
// The "Meter survey" page: the site survey as a sortable table with the
// derived path column, a minimum count, "Clear survey" and "Export survey".
// The survey counts every frame as it comes; the table follows it on a
// timer, a few times a second, never per telegram.

#include <QAbstractTableModel>
#include <QWidget>
#include <vector>

#include "survey.h"
#include "telegram_table_panel.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

// The survey's rows in the order and filter the operator chose. Cells are
// read from the survey's records when drawn; the row order is taken at
// each refresh.
class SurveyModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit SurveyModel(const survey::Survey& s, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

  void SetMinCount(std::uint32_t minCount);
  // Takes the survey's state when it changed since the last refresh.
  void Refresh(bool force = false);
  const std::vector<int>& Rows() const { return m_rows; }

 private:
  const survey::Survey& m_survey;
  std::vector<int> m_rows;
  survey::Column m_sortColumn = survey::Column::kId;
  bool m_descending = false;
  std::uint32_t m_minCount = 0;
  std::uint64_t m_generation = ~std::uint64_t{0};
};

class SurveyPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 250;

  explicit SurveyPage(TableFileEnv env, QWidget* parent = nullptr);

  survey::Survey& Survey() { return m_survey; }
  void Clear();   // "Clear survey"
  void Export();  // "Export survey"

  QTableView* Grid_survey;
  QLabel* Label_minCount;
  QSpinBox* Edit_minCount;
  QLabel* Label_surveyCount;
  QPushButton* BitBtn_clearSurvey;
  QPushButton* BitBtn_exportSurvey;
  QTimer* Timer_survey;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Only while the page is shown: a hidden page costs nothing but the counting.
  void Refresh();

  TableFileEnv m_env;
  survey::Survey m_survey;
  SurveyModel* m_model;
};
