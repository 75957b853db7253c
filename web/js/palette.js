// Colours every view shares: Okabe and Ito's palette, told apart with every
// common colour-vision deficiency, and the Cividis scale for surfaces.
export const PALETTE = ['#0072B2', '#E69F00', '#009E73', '#D55E00', '#CC79A7', '#56B4E9', '#F0E442', '#000000'];
export const BAND = 'rgba(86, 180, 233, 0.35)';
export const SWEET = 'rgba(0, 158, 115, 0.35)';
export const SCALE = 'Cividis';
export const font = { family: 'system-ui, sans-serif', size: 12 };
export const config = { displaylogo: false, responsive: true, modeBarButtonsToRemove: ['select2d', 'lasso2d'] };
