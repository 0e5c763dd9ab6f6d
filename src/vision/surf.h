#pragma once

#include <memory>

namespace cv { class Mat; }

// Similarity model of one ROI (detection function "Similarity"). The engine
// knows it by this name; it is our own masked structural-similarity compare,
// not a feature detector.
//
// Match scores the image against every learnt template as the mean local
// structural similarity (7 x 7 Gaussian windows) over the ROI mask, in percent
// (100 = identical; a uniform brightness change costs little, a changed
// structure much), and returns the best score. Pixels that differ from the
// best template by more than the difference threshold given to AddTemp are
// marked in the defect mask.
//
// Order of use: Create, AddTemp per template, Train; IsValid before Match.
// Copies its inputs, accepts views, never throws; one pointer while empty.
class SURF
{
public:
    SURF();
    ~SURF();
    SURF(SURF&&) noexcept;
    SURF& operator=(SURF&&) noexcept;
    SURF(const SURF&) = delete;
    SURF& operator=(const SURF&) = delete;

    // Valid once trained with at least one template.
    bool IsValid() const;
    void Clear();

    bool Create(int width, int height, const cv::Mat& mask);
    // One template cut to the ROI box; the engine passes (image, 1, 50, sensitivity).
    bool AddTemp(const cv::Mat& image, int reserved, int diffThreshold, int minScore);
    bool Train(int, int, int, int);
    // Best similarity in percent (0..100); 0 when the model cannot compare.
    float Match(cv::Mat& image, cv::Mat& defects);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
