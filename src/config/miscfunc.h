#pragma once

// Pixel-plane conversions, image shifts, touch tolerances, screen clamps,
// SQLite column migration and a JSON helper shared by camera, ROI and
// database code. No state; reentrant.

#include <QJsonArray>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <opencv2/core.hpp>

class QSqlDatabase;

// floor(w_c * 1024 * v), c = byte 0, 1, 2 with weights 0.299, 0.587, 0.114.
extern const int gaRGB2Gray[3 * 256];

void RGBA2Gray(unsigned char* dst, int* src, int width, int height);
void RGB2Gray(unsigned char* dst, int* src, int width, int height);
void RGBA2Hue(unsigned char* dst, int* src, int width, int height);
unsigned char RGB2HueByte(unsigned char a, unsigned char b, unsigned char c);
void Gray2RGBA(unsigned char* src, int* dst, int width, int height);

void MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy);
// Shifts, then turns about centre; written into dst's own buffer when it has src's size and type.
void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle);

bool PointAround(QPoint a, QPoint b, int d);
bool LineAround(int a, int b, int d);
bool LineAround(int a, int b, int c, int lo, int hi, int d);

// Keeps a display coordinate within 3 .. gShowW-3 (isX) or 3 .. gShowH-3.
void CheckInRange(int* v, int isX, int width, int height);
// Normalises a display rectangle, then moves (keepSize) or clamps it into the screen.
void CheckInRange(QRect* r, int width, int height, bool keepSize);

bool columnExists(QSqlDatabase& db, const QString& table, const QString& column);
bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type);

QStringList jsonArray2StringList(QJsonArray array);
