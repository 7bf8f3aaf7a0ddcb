#include "application.h"
#include "main_window.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  TForm1 form;
  form.show();
  const int result = application.exec();
  form.DoDestroy();  // hidden by now: settings and placement are saved, the measurement stopped
  return result;
}
